#include "cli/CliSupport.h"

int main(int argc, char** argv) { return corvina::cli::RunCli(argc, argv); }
