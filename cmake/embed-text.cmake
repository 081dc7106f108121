# Writes the text of IN into OUT as the C string NAME.
file(READ ${IN} text)
if(text MATCHES "\\)zk\"")
  message(FATAL_ERROR "${IN} holds the string's end marker")
endif()
file(WRITE ${OUT} "// Generated from ${IN}.\nextern const char ${NAME}[];\nconst char ${NAME}[] = R\"zk(${text})zk\";\n")
