"""What include/flatav.h declares, as the C compiler lays it out (libclang).

Types are reduced to a few shapes that every emitter maps to its language:
  ("int", bits, signed)   ("float", bits)   ("char",)   ("void",)
  ("ptr", target, const)  ("array", element, count)
  ("record", name)        ("opaque", name)  ("fn", name)
  ("fnproto", result, [params])            (a function type without a name)
"""
import ast
import re
from dataclasses import dataclass, field

import clang.cindex as ci


class HeaderError(Exception):
    pass


@dataclass
class Field:
    name: str
    type: tuple
    offset: int
    size: int


@dataclass
class Record:
    name: str        # typedef name, else the tag
    c_name: str      # how C spells the type ("struct X" without a typedef)
    size: int
    fields: list


@dataclass
class Function:
    name: str
    result: tuple
    params: list     # [(name, type)]


@dataclass
class Constant:
    name: str
    value: int


@dataclass
class Header:
    records: list = field(default_factory=list)
    fn_types: list = field(default_factory=list)   # Function, name = typedef
    functions: list = field(default_factory=list)
    constants: list = field(default_factory=list)


_INT_KINDS = {
    ci.TypeKind.SCHAR: True, ci.TypeKind.UCHAR: False,
    ci.TypeKind.SHORT: True, ci.TypeKind.USHORT: False,
    ci.TypeKind.INT: True, ci.TypeKind.UINT: False,
    ci.TypeKind.LONG: True, ci.TypeKind.ULONG: False,
    ci.TypeKind.LONGLONG: True, ci.TypeKind.ULONGLONG: False,
}


def _shape(t):
    """The shape of a clang type (see the module comment)."""
    if t.kind == ci.TypeKind.TYPEDEF:
        canon = t.get_canonical()
        if canon.kind == ci.TypeKind.POINTER and \
                canon.get_pointee().kind == ci.TypeKind.FUNCTIONPROTO:
            return ("fn", t.get_declaration().spelling)
        return _shape(canon)
    if t.kind == ci.TypeKind.ELABORATED:
        return _shape(t.get_named_type())
    t = t.get_canonical()
    k = t.kind
    if k == ci.TypeKind.VOID:
        return ("void",)
    if k in (ci.TypeKind.CHAR_S, ci.TypeKind.CHAR_U):
        return ("char",)
    if k in _INT_KINDS:
        return ("int", t.get_size() * 8, _INT_KINDS[k])
    if k in (ci.TypeKind.FLOAT, ci.TypeKind.DOUBLE):
        return ("float", t.get_size() * 8)
    if k == ci.TypeKind.ENUM:
        return _shape(t.get_declaration().enum_type)
    if k == ci.TypeKind.POINTER:
        return ("ptr", _shape(t.get_pointee()), t.get_pointee().is_const_qualified())
    if k == ci.TypeKind.CONSTANTARRAY:
        return ("array", _shape(t.get_array_element_type()), t.get_array_size())
    if k == ci.TypeKind.RECORD:
        decl = t.get_declaration()
        name = _record_name(decl)
        return ("record" if decl.is_definition() or t.get_size() > 0 else "opaque", name)
    if k == ci.TypeKind.FUNCTIONPROTO:
        return ("fnproto", _shape(t.get_result()),
                [("", _shape(a)) for a in t.argument_types()])
    raise HeaderError("type %s (%s) has no binding" % (t.spelling, k))


_typedef_of_tag = {}


def _record_name(decl):
    return _typedef_of_tag.get(decl.get_usr(), decl.spelling)


def _params(cursor):
    return [(a.spelling, _shape(a.type)) for a in cursor.get_arguments()]


def _fn_type(name, cursor):
    proto = cursor.underlying_typedef_type.get_canonical().get_pointee()
    params = [(a.spelling, _shape(a.type))
              for a in cursor.get_children() if a.kind == ci.CursorKind.PARM_DECL]
    if len(params) != len(list(proto.argument_types())):
        raise HeaderError("%s: name every parameter" % name)
    return Function(name, _shape(proto.get_result()), params)


# `/* 40: ...` or `/* 40 */`: the offset a field's comment starts with.
_OFFSET_COMMENT = re.compile(r"/\*\s*(\d+)\s*(?::|\*/)")
# "(128 bytes" in the comment above a record.
_SIZE_COMMENT = re.compile(r"\((\d+) bytes")


def _check_offset_comment(lines, record, cursor, offset):
    line = lines[cursor.extent.end.line - 1]
    m = _OFFSET_COMMENT.search(line[cursor.extent.end.column - 1:])
    if not m:
        raise HeaderError("line %d: %s.%s has no offset comment (clang: %d)"
                          % (cursor.extent.end.line, record, cursor.spelling, offset))
    if int(m.group(1)) != offset:
        raise HeaderError("line %d: %s.%s is commented at %s, clang puts it at %d"
                          % (cursor.extent.end.line, record, cursor.spelling, m.group(1), offset))


def _check_size_comment(lines, name, first_line, size):
    """The comment block right above a record, when it names a size."""
    end = first_line - 2
    if end < 0 or not lines[end].rstrip().endswith("*/"):
        return
    start = end
    while start > 0 and "/*" not in lines[start]:
        start -= 1
    m = _SIZE_COMMENT.search(" ".join(lines[start:end + 1]))
    if m and int(m.group(1)) != size:
        raise HeaderError("line %d: %s is commented as %s bytes, clang makes it %d"
                          % (first_line, name, m.group(1), size))


def _records(lines, cursor, first_line):
    """The record and, first, the records defined inside it."""
    records = []
    for inner in cursor.get_children():
        if inner.kind == ci.CursorKind.STRUCT_DECL and inner.is_definition():
            records += _records(lines, inner, inner.extent.start.line)
    name = _record_name(cursor)
    if not name:
        raise HeaderError("line %d: give the record a name" % first_line)
    fields = []
    for f in cursor.type.get_fields():
        if f.is_bitfield():
            raise HeaderError("%s.%s: bit fields have no binding" % (name, f.spelling))
        offset = f.get_field_offsetof() // 8
        _check_offset_comment(lines, name, f, offset)
        fields.append(Field(f.spelling, _shape(f.type), offset, f.type.get_size()))
    size = cursor.type.get_size()
    _check_size_comment(lines, name, first_line, size)
    c_name = name if cursor.get_usr() in _typedef_of_tag else "struct " + name
    return records + [Record(name, c_name, size, fields)]


# C integer literals and the operators of a constant expression.
_INT_LITERAL = re.compile(r"^(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)[uUlL]*$")
_OPERATORS = {"(", ")", "+", "-", "*", "/", "%", "<<", ">>", "&", "|", "^", "~"}
_AST_NODES = (ast.Expression, ast.BinOp, ast.UnaryOp, ast.Constant, ast.operator,
              ast.unaryop)


def _macro_value(tokens, known):
    """The value of a macro made of integers and operators, else None."""
    if not tokens:
        return None
    text = []
    for tok in tokens:
        m = _INT_LITERAL.match(tok)
        if m:
            digits = m.group(1)
            if len(digits) > 1 and digits[0] == "0" and digits[1] not in "xX":
                digits = "0o" + digits[1:]
            text.append(digits)
        elif tok in known:
            text.append("(%d)" % known[tok])
        elif tok in _OPERATORS:
            text.append("//" if tok == "/" else tok)
        else:
            return None
    try:
        tree = ast.parse(" ".join(text), mode="eval")
    except SyntaxError:
        return None
    if not all(isinstance(n, _AST_NODES) for n in ast.walk(tree)):
        return None
    return eval(compile(tree, "<macro>", "eval"))


def _check_constants(index, header_path, constants, args):
    """Lets the C compiler confirm every value read from the macros."""
    lines = ['#include "%s"' % header_path]
    lines += ['_Static_assert((%s) == (%dLL), "%s");' % (c.name, c.value, c.name)
              for c in constants]
    tu = index.parse("constants_check.c", args=args,
                     unsaved_files=[("constants_check.c", "\n".join(lines) + "\n")])
    errors = [str(d) for d in tu.diagnostics if d.severity >= ci.Diagnostic.Error]
    if errors:
        raise HeaderError("constant values differ from the compiler's:\n" + "\n".join(errors))


def read_header(header_path):
    args = ["-x", "c", "-std=c99"]
    index = ci.Index.create()
    tu = index.parse(header_path, args=args,
                     options=ci.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD)
    errors = [str(d) for d in tu.diagnostics if d.severity >= ci.Diagnostic.Warning]
    if errors:
        raise HeaderError("clang reports on the header:\n" + "\n".join(errors))
    with open(header_path) as f:
        lines = f.read().split("\n")

    own = [c for c in tu.cursor.get_children()
           if c.location.file and c.location.file.name == header_path]
    _typedef_of_tag.clear()
    for c in own:
        if c.kind == ci.CursorKind.TYPEDEF_DECL:
            under = c.underlying_typedef_type.get_canonical()
            if under.kind == ci.TypeKind.RECORD:
                _typedef_of_tag[under.get_declaration().get_usr()] = c.spelling

    header = Header()
    known = {}
    for c in own:
        if c.kind == ci.CursorKind.MACRO_DEFINITION:
            value = _macro_value([t.spelling for t in c.get_tokens()][1:], known)
            if value is not None:
                known[c.spelling] = value
                header.constants.append(Constant(c.spelling, value))
        elif c.kind == ci.CursorKind.ENUM_DECL:
            for e in c.get_children():
                known[e.spelling] = e.enum_value
                header.constants.append(Constant(e.spelling, e.enum_value))
        elif c.kind == ci.CursorKind.STRUCT_DECL and c.is_definition():
            header.records += _records(lines, c, c.extent.start.line)
        elif c.kind == ci.CursorKind.TYPEDEF_DECL:
            if _shape(c.type)[0] == "fn":
                header.fn_types.append(_fn_type(c.spelling, c))
        elif c.kind == ci.CursorKind.FUNCTION_DECL:
            header.functions.append(Function(c.spelling, _shape(c.result_type), _params(c)))
        elif c.kind == ci.CursorKind.UNION_DECL:
            raise HeaderError("line %d: unions have no binding" % c.location.line)
    _check_constants(index, header_path, header.constants, args)
    return header
