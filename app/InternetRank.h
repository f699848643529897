#pragma once
// The ranking page "intsc.htm": the current scores in a form the user's browser posts to the
// internet ranking service, with a check value that shows whether they were edited.
// The version, the check value and the form's address are shared with the service.
#include "rank/RankCheck.h"

// Writes "intsc.htm" into the current directory from the main window's panels. A panel that
// is not an integer raises EConvertError before the file is created. The form posts to
// RankServiceAddress(), written as an attribute value (&, ", < and > as entities).
void MakeRankPage();
// Opens "intsc.htm" with the shell.
void OpenRankPage();
