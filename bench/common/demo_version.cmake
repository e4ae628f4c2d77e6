# Writes OUTPUT with ACOMP_DEMO_VERSION, the first 12 hex digits of a SHA-256 over SOURCES (file
# names separated by "|").
string(REPLACE "|" ";" sources "${SOURCES}")
set(digests "")
foreach(source ${sources})
  file(SHA256 ${source} digest)
  string(APPEND digests ${digest})
endforeach()
string(SHA256 version "${digests}")
string(SUBSTRING ${version} 0 12 version)
file(WRITE ${OUTPUT}.new "#pragma once\n#define ACOMP_DEMO_VERSION \"${version}\"\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
