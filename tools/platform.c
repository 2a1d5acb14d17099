#if !defined(_WIN32)
#define _FILE_OFFSET_BITS 64
#define _POSIX_C_SOURCE 200809L
#endif
#include "platform.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#if defined(_WIN32)

/* UTF-8 to UTF-16, or NULL; free the result. */
static wchar_t *to_wide(const char *utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, NULL, 0);
    wchar_t *wide = n > 0 ? malloc((size_t)n * sizeof *wide) : NULL;
    if (wide && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, n) != n) {
        free(wide);
        wide = NULL;
    }
    if (!wide)
        errno = EINVAL;
    return wide;
}

static char *to_utf8(const wchar_t *wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
    char *utf8 = n > 0 ? malloc((size_t)n) : NULL;
    if (utf8)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, n, NULL, NULL);
    return utf8;
}

void platform_utf8_args(int *argc, char ***argv)
{
    int n = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &n);
    char **args = wide ? calloc((size_t)n + 1, sizeof *args) : NULL;
    if (!args) {
        LocalFree(wide);
        return; /* the ANSI arguments, then */
    }
    /* Kept until the tool exits, as argv would be. */
    for (int i = 0; i < n; i++)
        if (!(args[i] = to_utf8(wide[i])))
            args[i] = (*argv)[i < *argc ? i : 0];
    LocalFree(wide);
    *argc = n;
    *argv = args;
}

FILE *platform_fopen(const char *path, const char *mode)
{
    wchar_t *wide_path = to_wide(path), *wide_mode = to_wide(mode);
    FILE *file = wide_path && wide_mode ? _wfopen(wide_path, wide_mode) : NULL;
    free(wide_path);
    free(wide_mode);
    return file;
}

void platform_binary_stdin(void) { _setmode(_fileno(stdin), _O_BINARY); }

FILE *platform_split_stdout(void)
{
    fflush(stdout);
    const int data_fd = _dup(_fileno(stdout));
    if (data_fd < 0 || _dup2(_fileno(stderr), _fileno(stdout)) != 0)
        return NULL;
    _setmode(data_fd, _O_BINARY);
    return _fdopen(data_fd, "wb");
}

int platform_stderr_is_terminal(void) { return _isatty(_fileno(stderr)); }

static HANDLE open_for_query(const char *path)
{
    wchar_t *wide = to_wide(path);
    if (!wide)
        return INVALID_HANDLE_VALUE;
    /* FILE_FLAG_BACKUP_SEMANTICS opens folders too. */
    HANDLE h = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    free(wide);
    return h;
}

int platform_file_kind(const char *path)
{
    HANDLE h = open_for_query(path);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    const int regular = GetFileType(h) == FILE_TYPE_DISK &&
                        GetFileInformationByHandle(h, &info) &&
                        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    return regular ? 1 : 2;
}

/* The volume and the file's index: what st_dev and st_ino are elsewhere. */
static int file_identity(HANDLE h, BY_HANDLE_FILE_INFORMATION *info)
{
    return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(h, info);
}

int platform_same_file(const char *path, const char *input_path)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    HANDLE out = open_for_query(path);
    int same = 0;
    if (file_identity(out, &a)) {
        if (strcmp(input_path, "-") == 0) {
            same = file_identity((HANDLE)_get_osfhandle(_fileno(stdin)), &b);
        } else {
            HANDLE in = open_for_query(input_path);
            same = file_identity(in, &b);
            if (in != INVALID_HANDLE_VALUE)
                CloseHandle(in);
        }
        same = same && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    return same;
}

FILE *platform_temp_beside(const char *path, char **temp_path)
{
    const size_t n = strlen(path) + 32;
    char *name = malloc(n);
    if (!name) {
        errno = ENOMEM;
        return NULL;
    }
    /* "wbx" fails on a name that exists: try a few. */
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        snprintf(name, n, "%s.flatav-%lu-%u", path, (unsigned long)GetCurrentProcessId(), attempt);
        FILE *file = platform_fopen(name, "wbx");
        if (file || errno != EEXIST) {
            if (file)
                *temp_path = name;
            else
                free(name);
            return file;
        }
    }
    free(name);
    errno = EEXIST;
    return NULL;
}

int platform_replace_file(const char *from, const char *to)
{
    wchar_t *wide_from = to_wide(from), *wide_to = to_wide(to);
    const BOOL moved = wide_from && wide_to &&
                       MoveFileExW(wide_from, wide_to,
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    free(wide_from);
    free(wide_to);
    if (moved)
        return 0;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return -1;
}

#else

void platform_utf8_args(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
}

FILE *platform_fopen(const char *path, const char *mode) { return fopen(path, mode); }

void platform_binary_stdin(void) {}

FILE *platform_split_stdout(void)
{
    fflush(stdout);
    const int data_fd = dup(STDOUT_FILENO);
    if (data_fd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return NULL;
    return fdopen(data_fd, "wb");
}

int platform_stderr_is_terminal(void) { return isatty(STDERR_FILENO); }

int platform_file_kind(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    return S_ISREG(st.st_mode) ? 1 : 2;
}

int platform_same_file(const char *path, const char *input_path)
{
    struct stat out_st, in_st;
    return stat(path, &out_st) == 0 &&
           (strcmp(input_path, "-") == 0 ? fstat(STDIN_FILENO, &in_st)
                                         : stat(input_path, &in_st)) == 0 &&
           out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino;
}

FILE *platform_temp_beside(const char *path, char **temp_path)
{
    /* ".NAME.flatav-XXXXXX" in path's directory, so that the rename stays
     * on one file system. */
    const char *slash = strrchr(path, '/');
    const size_t dir_length = slash ? (size_t)(slash - path) + 1 : 0;
    const size_t n = strlen(path) + 32;
    char *name = malloc(n);
    if (!name) {
        errno = ENOMEM;
        return NULL;
    }
    snprintf(name, n, "%.*s.%s.flatav-XXXXXX", (int)dir_length, path, path + dir_length);
    const int fd = mkstemp(name);
    if (fd < 0) {
        free(name);
        return NULL;
    }
    /* The mode the replaced file had, or the one a new file would get. */
    struct stat st;
    mode_t mode;
    if (stat(path, &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode = umask(0);
        umask(mode);
        mode = 0666 & ~mode;
    }
    fchmod(fd, mode);
    FILE *file = fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        close(fd);
        remove(name);
        free(name);
        errno = error;
        return NULL;
    }
    *temp_path = name;
    return file;
}

int platform_replace_file(const char *from, const char *to) { return rename(from, to); }

#endif
