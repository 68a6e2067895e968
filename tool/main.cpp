#include "Driver.h"

int main(int argc, char** argv) { return runDecoder(argc, argv); }
