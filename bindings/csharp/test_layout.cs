// Prints "Record field offset" and "Record sizeof size" for every record of
// the C# binding, as the runtime lays it out; the tests compare with C.
using System;
using System.Reflection;
using System.Runtime.InteropServices;

static class TestLayout
{
    static void Main()
    {
        foreach (Type t in typeof(Flatav.Api).Assembly.GetTypes()) {
            if (!t.IsValueType || t.StructLayoutAttribute.Value != LayoutKind.Explicit)
                continue;
            Console.WriteLine("{0} sizeof {1}", t.Name, Marshal.SizeOf(t));
            foreach (FieldInfo f in t.GetFields(BindingFlags.Public | BindingFlags.Instance))
                Console.WriteLine("{0} {1} {2}", t.Name, f.Name, Marshal.OffsetOf(t, f.Name));
        }
    }
}
