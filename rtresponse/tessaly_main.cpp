// tessaly: the loop's magnitude response in real time, +1 .. -2 dB at 100 pixels per dB.
#include "rtresponse/program.hpp"

int main(int argc, char** argv) { return analyser_run(argc, argv, scale_tessaly); }
