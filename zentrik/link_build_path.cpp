// Test programs start the helper of their own build tree.
extern "C" const char* brennicLinkBuildPath() { return BRENNIC_LINK_BUILD_PATH; }
