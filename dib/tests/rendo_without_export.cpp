// A library named librendo.so that lacks CreateInstance.
extern "C" int NotTheEngine() { return 0; }
