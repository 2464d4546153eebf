#pragma once

// The whole program behind main(): options, database, signals, event loop.
int runRankingServer(int argc, char *argv[]);
