#include "zentrik/link_helper.h"

int main() { return linkHelperMain(); }
