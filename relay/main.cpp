#include "relay/relay_program.h"

int main(int argc, char** argv) { return tessard::RunProgram(argc, argv); }
