#include "ui/ProgramStart.h"

int main(int argc, char** argv) { return corvina::RunProgram(argc, argv); }
