#include "cli/driver.h"

int main(int argc, char* argv[]) { return run_marlet(argc, argv); }
