// Owner of the precompiled header every test shares (see tests/CMakeLists.txt); it has no tests.
