/* A test DLL as MinGW builds it: exports with ordinal gaps and a GBK name, a
 * section named like a packer's, and the C runtime among its imports. */
int __stdcall fn_a(int x) { return x + 1; }
int __stdcall fn_b(int x) { return x + 2; }
int __stdcall fn_c(int x) { return x + 3; }
__attribute__((section("UPX0"))) int packed_marker = 7;
