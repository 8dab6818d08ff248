# Turns a compiled catalogue (.qm) into a C++ source holding its bytes, so that the window's
# static library carries it without a Qt resource (whose object library every program linking
# the window would have to know Qt's platform targets for).
# Usage: cmake -DINPUT=file.qm -DOUTPUT=file.cpp -DNAME=Symbol -P embed_catalogue.cmake
file(READ ${INPUT} bytes HEX)
string(LENGTH "${bytes}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," array "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; do not edit.\n"
  "extern const unsigned char ${NAME}[];\nextern const int ${NAME}Size;\n"
  "const unsigned char ${NAME}[] = {${array}};\nconst int ${NAME}Size = ${size};\n")
