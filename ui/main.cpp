#include "ui/start.h"

int main(int argc, char** argv) { return runBrennic(argc, argv, runSheetModule); }
