// tarvex: send and receive SMS through GSM modems from the command line.
// Everything lives in the tool's library (tool.cpp and the command files).
#include "commands.h"

int main(int argc, char** argv) { return tarvex::cli::RunTool(argc, argv); }
