#include "bench_app.h"

int main(int argc, char** argv) {
    CBenchApp app;
    return app.Run(argc, argv);
}
