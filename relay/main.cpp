#include "relay/relay_program.h"

int main() { return tessard::RunRelay(); }
