"""The C# binding (Flatav.cs): explicit-layout records, delegates, DllImports.

Records are blittable unsafe structs, so a pointer to one can go to the
library as it is; host-function slots in records are IntPtr (fill them with
Marshal.GetFunctionPointerForDelegate and keep the delegate alive)."""
from header_model import HeaderError

_KEYWORDS = set("""abstract as base bool break byte case catch char checked class const
continue decimal default delegate do double else enum event explicit extern false finally
fixed float for foreach goto if implicit in int interface internal is lock long namespace
new null object operator out override params private protected public readonly ref return
sbyte sealed short sizeof stackalloc static string struct switch this throw true try typeof
uint ulong unchecked unsafe ushort using virtual void volatile while""".split())

_INTS = {(8, True): "sbyte", (8, False): "byte", (16, True): "short", (16, False): "ushort",
         (32, True): "int", (32, False): "uint", (64, True): "long", (64, False): "ulong"}


def _name(name):
    return "@" + name if name in _KEYWORDS else name


def _cs(shape, where):
    """where: "field", "param", "result" or "callback"."""
    kind = shape[0]
    if kind == "int":
        return _INTS[shape[1], shape[2]]
    if kind == "float":
        return "float" if shape[1] == 32 else "double"
    if kind == "char":
        return "byte"
    if kind == "void":
        return "void"
    if kind == "record":
        return shape[1]
    if kind in ("fn", "fnproto"):
        return shape[1] if kind == "fn" and where == "param" else "IntPtr"
    if kind == "array":
        raise HeaderError("arrays are only record fields")
    target, const = shape[1], shape[2]
    if target[0] == "char":
        if where == "param" and const:
            return "string"
        return "IntPtr" if where != "param" else "byte*"
    if target[0] in ("void", "opaque", "fn", "fnproto"):
        return "IntPtr"
    return _cs(target, "field") + "*"


def _field(f):
    if f.type[0] == "array":
        elem = f.type[1]
        if elem[0] not in ("int", "float", "char"):
            raise HeaderError("%s: C# keeps only arrays of numbers in records" % f.name)
        return "public fixed %s %s[%d];" % (_cs(elem, "field"), _name(f.name), f.type[2])
    return "public %s %s;" % (_cs(f.type, "field"), _name(f.name))


def _params(params, where):
    return ", ".join("%s %s" % (_cs(t, where), _name(n or "arg%d" % i))
                     for i, (n, t) in enumerate(params))


def emit(header, banner):
    out = ["// " + line if line else "//" for line in banner.split("\n")]
    out += ["using System;", "using System.Runtime.InteropServices;", "",
            "namespace Flatav", "{"]
    for f in header.fn_types:
        out += ["    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]",
                "    public unsafe delegate %s %s(%s);"
                % (_cs(f.result, "callback"), f.name, _params(f.params, "callback")), ""]
    for r in header.records:
        out += ["    [StructLayout(LayoutKind.Explicit, Size = %d)]" % r.size,
                "    public unsafe struct %s" % r.name, "    {"]
        for f in r.fields:
            out.append("        [FieldOffset(%d)] %s" % (f.offset, _field(f)))
        out += ["    }", ""]
    out += ["    public static unsafe class Api", "    {"]
    for c in header.constants:
        ctype = "int" if -2**31 <= c.value < 2**31 else "long" if c.value < 2**63 else "ulong"
        out.append("        public const %s %s = %d;" % (ctype, c.name, c.value))
    out.append("")
    for f in header.functions:
        out += ['        [DllImport("flatav", CallingConvention = CallingConvention.Cdecl)]',
                "        public static extern %s %s(%s);"
                % (_cs(f.result, "result"), f.name, _params(f.params, "param"))]
    out += ["    }", "}", ""]
    return "\n".join(out)
