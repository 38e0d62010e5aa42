// orbisca: the loop's magnitude response in real time, +-30 dB at 10 pixels per dB.
#include "rtresponse/program.hpp"

int main(int argc, char** argv) { return analyser_run(argc, argv, scale_orbisca); }
