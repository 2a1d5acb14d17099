# The Windows DLL: flatav.dll exports what the header marks with FLATAV_API
# (__declspec(dllexport)) and nothing else. Hosts load it with nothing
# beside it but FFmpeg's DLLs: the C++ runtime and libgcc are linked in.
set_target_properties(flatav PROPERTIES PREFIX "" IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
set(FLATAV_STATIC_RUNTIME -static-libgcc -static-libstdc++)
target_link_options(flatav PRIVATE ${FLATAV_STATIC_RUNTIME}
  -Wl,--no-undefined -Wl,--output-def,${PROJECT_BINARY_DIR}/flatav.def)
if(TARGET flatav_cli)
  target_link_options(flatav_cli PRIVATE ${FLATAV_STATIC_RUNTIME})
endif()
