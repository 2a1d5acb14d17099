"""The Pascal unit (flatav.pas): packed records whose padding fields put every
field at the header's offset, procedural types, cdecl external functions.
Written for Free Pascal and Delphi in Delphi mode."""

_KEYWORDS = set("""and array as asm begin case class const constructor destructor
dispinterface div do downto else end except exports file finalization finally for
function goto if implementation in inherited initialization inline interface is label
library mod nil not object of operator or out packed procedure program property raise
record repeat resourcestring result self set shl shr string then threadvar to try type
unit until uses var while with xor""".split())

_INTS = {(8, True): "Int8", (8, False): "UInt8", (16, True): "Int16", (16, False): "UInt16",
         (32, True): "Int32", (32, False): "UInt32", (64, True): "Int64",
         (64, False): "UInt64"}


class _Names:
    """Pascal type names for shapes; collects the pointer types it names."""

    def __init__(self):
        self.pointers = {}   # name -> (target name, levels of indirection)

    def of(self, shape):
        kind = shape[0]
        if kind == "int":
            return _INTS[shape[1], shape[2]]
        if kind == "float":
            return "Single" if shape[1] == 32 else "Double"
        if kind == "char":
            return "AnsiChar"
        if kind in ("record", "fn"):
            return shape[1]
        if kind == "fnproto":
            return "Pointer"
        if kind == "array":
            return "array[0..%d] of %s" % (shape[2] - 1, self.of(shape[1]))
        target = shape[1]
        if target[0] in ("void", "opaque", "fnproto"):
            return "Pointer"
        if target[0] == "char":
            return "PAnsiChar"
        inner = self.of(target)
        name = "P" + inner
        levels = self.pointers[inner][1] + 1 if inner in self.pointers else 1
        self.pointers.setdefault(name, (inner, levels))
        return name


def escape(name, taken):
    return name + "_" if name.lower() in taken else name


def _signature(names, f, taken):
    params = "; ".join("%s: %s" % (escape(n or "arg%d" % i, taken), names.of(t))
                       for i, (n, t) in enumerate(f.params))
    params = "(%s)" % params if params else ""
    if f.result[0] == "void":
        return "procedure%s" % params, ""
    return "function%s" % params, ": %s" % names.of(f.result)


def field_name(name):
    return escape(name, _KEYWORDS)


def emit(header, banner):
    names = _Names()
    for r in header.records:
        names.of(("ptr", ("record", r.name), False))
    # Parameter names may not repeat a type's or a function's name.
    taken = _KEYWORDS | {r.name.lower() for r in header.records} | \
        {f.name.lower() for f in header.fn_types + header.functions}

    records = []
    for r in header.records:
        lines = ["  %s = packed record" % r.name]
        end = 0
        for f in r.fields:
            if f.offset > end:
                lines.append("    _pad_%d: array[0..%d] of UInt8;" % (end, f.offset - end - 1))
            lines.append("    %s: %s;  { %d }" % (field_name(f.name), names.of(f.type),
                                                 f.offset))
            end = f.offset + f.size
        if r.size > end:
            lines.append("    _pad_%d: array[0..%d] of UInt8;" % (end, r.size - end - 1))
        records += lines + ["  end;", ""]

    fn_types = []
    for f in header.fn_types:
        head, result = _signature(names, f, taken)
        fn_types.append("  %s = %s%s; cdecl;" % (f.name, head, result))

    functions = []
    for f in header.functions:
        head, result = _signature(names, f, taken)
        kind, params = head.split("(", 1) if "(" in head else (head, None)
        params = "(" + params if params else ""
        functions.append("%s %s%s%s; cdecl; external FLATAV_LIBRARY;"
                         % (kind, f.name, params, result))

    out = ["{ " + line + " }" if line else "" for line in banner.split("\n")]
    out += ["unit flatav;", "", "{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}", "", "interface", "",
            "const", "  FLATAV_LIBRARY = 'flatav';"]
    out += ["  %s = %d;" % (c.name, c.value) for c in header.constants]
    out += ["", "type"]
    # A pointer type comes after the pointer type it points to; pointers to
    # records and procedural types declared below are forward declarations.
    ordered = sorted(names.pointers.items(), key=lambda p: p[1][1])
    out += ["  %s = ^%s;" % (n, t) for n, (t, _) in ordered]
    out += [""] + fn_types + [""] + records
    out += functions + ["", "implementation", "", "end.", ""]
    return "\n".join(out)
