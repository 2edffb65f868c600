#include "link/session.h"

int selectedAdapter = 0;
int busy = 1;  // until the first session has started
int sessionOpen = 0;
