#pragma once
// brennic-link's whole program, as a library so that tests link what ships.
// Serves the socketpair at linkwire::helperFd until the caller goes away.
int linkHelperMain();
