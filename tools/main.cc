// nametree: manage the names of a document from the command line.
#include "args.h"

int main(int argc, char** argv) { return nametree::cli::RunProgram(argc, argv); }
