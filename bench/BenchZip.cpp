// Extracts one archive into a folder with ExtractZip and prints the time it
// took, for tools/bench.sh to compare with Info-ZIP's unzip.
//   bench_zip.exe ARCHIVE FOLDER\   (both in the ANSI code page)

#include <windows.h>

#include <stdio.h>

#include "BenchClock.h"
#include "update/ZipExtract.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: bench_zip ARCHIVE FOLDER\\\n");
        return 2;
    }
    const double start = NowMs();
    const int extracted = ExtractZip(argv[1], argv[2]);
    const double elapsed = NowMs() - start;
    printf("%.1f\n", elapsed);
    return extracted ? 0 : 1;
}
