#include "server/ServerMain.h"

int main(int argc, char *argv[]) { return runRankingServer(argc, argv); }
