// kvor-zodid: operator and set-up program of the K-VOR-RN laser light-band sensor.
#include "state.h"

int main(int argc, char **argv) { return KvorMain(argc, argv); }
