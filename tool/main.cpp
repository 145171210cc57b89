// ZendrikDemo: the reader's configuration tool.
#include "tool/demo_app.h"

int main(int argc, char** argv) {
    zendrik::tool::CDemoApp application(argc, argv);
    return application.Run();
}
