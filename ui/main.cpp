#include "ui/shell.h"

int main(int argc, char** argv) { return runBrennic(argc, argv); }
