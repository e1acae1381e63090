# Writes OUTPUT, a source file defining sourceRevision(): the git revision of SOURCE_DIR, or
# "unknown" outside a git tree. Run at every build; the file is rewritten only when the
# revision changed, so an unchanged tree rebuilds nothing.
set(revision "unknown")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse HEAD
    OUTPUT_VARIABLE head RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed AND head MATCHES "^[0-9a-f]+$")
    set(revision "${head}")
  endif()
endif()
file(WRITE "${OUTPUT}.new"
  "// Written by the build from the source tree's git revision.\n"
  "#include \"shell/Identity.h\"\n\n"
  "QString sourceRevision()\n{\n    return QStringLiteral(\"${revision}\");\n}\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${OUTPUT}.new" "${OUTPUT}")
file(REMOVE "${OUTPUT}.new")
