"""The ctypes layer (_abi.py): records, host-function types, exports, constants."""

_INTS = {(8, True): "c_int8", (8, False): "c_uint8", (16, True): "c_int16",
         (16, False): "c_uint16", (32, True): "c_int32", (32, False): "c_uint32",
         (64, True): "c_int64", (64, False): "c_uint64"}


def _ctype(shape, in_call=False):
    """ctypes spelling; in_call: a parameter or result, where byte pointers
    are c_void_p so that bytes, buffers and addresses pass alike."""
    kind = shape[0]
    if kind == "int":
        return "ctypes." + _INTS[shape[1], shape[2]]
    if kind == "float":
        return "ctypes.c_float" if shape[1] == 32 else "ctypes.c_double"
    if kind == "char":
        return "ctypes.c_char"
    if kind == "void":
        return "None"
    if kind == "record":
        return shape[1]
    if kind == "fn":
        return shape[1]
    if kind == "fnproto":
        return "ctypes.CFUNCTYPE(%s)" % ", ".join(
            [_ctype(shape[1], True)] + [_ctype(p, True) for _, p in shape[2]])
    if kind == "array":
        return "%s * %d" % (_ctype(shape[1]), shape[2])
    target = shape[1]
    if target[0] == "char":
        return "ctypes.c_char_p"
    if target[0] in ("void", "opaque", "fn", "fnproto"):
        return "ctypes.c_void_p"
    if target[0] == "int" and target[1] == 8 and in_call:
        return "ctypes.c_void_p"
    return "ctypes.POINTER(%s)" % _ctype(target)


def emit(header, banner):
    out = ['"""%s"""' % banner.replace("\n", "\n"), "import ctypes", ""]
    for c in header.constants:
        out.append("%s = %d" % (c.name, c.value))
    out.append("")
    for r in header.records:
        out += ["", "class %s(ctypes.Structure):" % r.name, "    pass", ""]
    out.append("")
    for f in header.fn_types:
        out.append("%s = ctypes.CFUNCTYPE(%s)" % (f.name, ", ".join(
            [_ctype(f.result, True)] + [_ctype(p, True) for _, p in f.params])))
    for r in header.records:
        out += ["", "%s._fields_ = [" % r.name]
        end = 0
        for f in r.fields:
            if f.offset > end:
                out.append('    ("_pad_%d", ctypes.c_uint8 * %d),' % (end, f.offset - end))
            out.append('    ("%s", %s),  # %d' % (f.name, _ctype(f.type), f.offset))
            end = f.offset + f.size
        if r.size > end:
            out.append('    ("_pad_%d", ctypes.c_uint8 * %d),' % (end, r.size - end))
        out.append("]")
    out += ["", "# name: (result, [parameters])", "EXPORTS = {"]
    for f in header.functions:
        out.append('    "%s": (%s, [%s]),' % (f.name, _ctype(f.result, True),
                                            ", ".join(_ctype(p, True) for _, p in f.params)))
    out += ["}", "", "",
            "def bind(lib):",
            '    """Gives every export of lib its result and parameter types."""',
            "    for name, (restype, argtypes) in EXPORTS.items():",
            "        function = getattr(lib, name)",
            "        function.restype, function.argtypes = restype, argtypes",
            "    return lib", ""]
    return "\n".join(out)
