#pragma once
// What build of the program this is, fixed when the build was configured.

// The project's version, with the source's `git describe` where the source was a git
// checkout at configure time: "2.10 (41d3616-dirty)", or "2.10" alone.
const char* ProgramVersion();

// The build type the program was compiled as: "Release", "Debug", ...
const char* BuildType();
