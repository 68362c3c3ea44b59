# Writes a C++ source whose manualText() returns the text of the file TEXT,
# so that the program carries its manual. Run as
#   cmake -DTEXT=<text file> -DOUT=<source to write> -P EmbedText.cmake
file(READ "${TEXT}" text)
if(text MATCHES "\\)manual\"")
  message(FATAL_ERROR "${TEXT} holds )manual\", which ends the string it is compiled into")
endif()
file(WRITE "${OUT}" "// Made from ${TEXT} when the program is built; edit that file instead.
#include \"cli/HelpText.h\"

QByteArray manualText()
{
    static const char text[] = R\"manual(${text})manual\";
    return QByteArray::fromRawData(text, sizeof(text) - 1);
}
")
