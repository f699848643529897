#pragma once
// The archive tool's commands, callable in-process:
//   pack [--stored] ARCHIVE FILE...   write an archive, entry names as given
//   list ARCHIVE                      show the directory
//   extract ARCHIVE ENTRY OUTFILE     write one entry's bytes to a file
// Returns the exit status: 0 done, 1 a bad archive, a missing entry or a file that could
// not be read or written (the reason on err), 2 a command line that is not one of these.
#include <ostream>
#include <string>
#include <vector>

int RunQdaTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
