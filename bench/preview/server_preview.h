// The server half of bench_preview: a folder of N pictures in a local qumo-service.
#pragma once

// Prints the first screen of the folder, before and now; 0 when it ran.
int RunServer(int n);
