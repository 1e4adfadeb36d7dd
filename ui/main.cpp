#include "loader_app.h"

int main(int argc, char** argv) {
    CLoaderApp app;
    return app.Run(argc, argv);
}
