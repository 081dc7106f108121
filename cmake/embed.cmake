# Writes the bytes of IN as a program's embedded resources in OUT, handed to
# the host's module as the program starts.
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}.\n#include <stddef.h>\n\nnamespace host {\nvoid SetModuleResources(const unsigned char* bytes, size_t size);\n}\n\nnamespace {\n\nalignas(4) const unsigned char kResources[] = {\n${bytes}};\n\nstruct HandedIn {\n    HandedIn() { host::SetModuleResources(kResources, sizeof kResources); }\n} handedIn;\n\n}  // namespace\n")
