"""Layout printers in C and Pascal: "Record field offset" and "Record sizeof
size" lines, compared by the tests with what Python and C# report."""


def emit_c(header):
    out = ["#include <stddef.h>", "#include <stdio.h>", "", '#include "flatav.h"', "",
           "#define SHOW(type, name, field) \\",
           '    printf("%s %s %zu\\n", name, #field, offsetof(type, field))', "",
           "int main(void)", "{"]
    for r in header.records:
        out.append('    printf("%%s sizeof %%zu\\n", "%s", sizeof(%s));' % (r.name, r.c_name))
        out += ['    SHOW(%s, "%s", %s);' % (r.c_name, r.name, f.name) for f in r.fields]
    out += ["    return 0;", "}", ""]
    return "\n".join(out)


def emit_pascal(header, field_name):
    """field_name: the Pascal spelling of a C field name."""
    out = ["program layout_test;", "", "{$MODE DELPHI}", "", "uses flatav;", "", "begin"]
    for r in header.records:
        out.append("  WriteLn('%s sizeof ', SizeOf(%s));" % (r.name, r.name))
        # In Delphi mode @ of a procedural field is the procedure; @@ the field.
        out += ["  WriteLn('%s %s ', PtrUInt(%s(P%s(nil)^.%s)));"
                % (r.name, f.name, "@@" if f.type[0] == "fn" else "@", r.name,
                   field_name(f.name)) for f in r.fields]
    out += ["end.", ""]
    return "\n".join(out)
