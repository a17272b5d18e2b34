# Tavik's version, for the project, the programs' --version and Server
# field, and the package. Read by the main project and by the fuzzers'.
set(TAVIK_VERSION 1.0)
