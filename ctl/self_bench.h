// What the supervisor does every 5 s of a game, timed inside the program: test builds run it
// for bench.sh against a fake device ("bench thermal|sample|ingame N").
#ifndef TESSIVARCTL_SELF_BENCH_H
#define TESSIVARCTL_SELF_BENCH_H

int run_self_bench(int argc, char** argv);

#endif
