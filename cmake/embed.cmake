# Writes the bytes of IN as the host's embedded resource image in OUT.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" len)
math(EXPR size "${len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}.\n#include <stddef.h>\n\nextern const unsigned char kHostResources[];\nextern const size_t kHostResourcesSize;\n\nalignas(4) const unsigned char kHostResources[] = {\n${bytes}};\nconst size_t kHostResourcesSize = ${size};\n")
