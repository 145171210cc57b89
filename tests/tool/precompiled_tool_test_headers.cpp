// Owner of the precompiled header the tool's tests share (see CMakeLists.txt); it tests nothing.
int main() {
    return 0;
}
