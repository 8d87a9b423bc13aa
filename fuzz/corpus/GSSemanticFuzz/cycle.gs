class A isclass B { int a; void f() { a = b + c; } };
class B isclass C { int b; };
class C isclass B { int c; };
class D isclass D { };
