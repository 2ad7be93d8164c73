// Built against one floor alone by tests/floors/check.cmake: with FLOOR_HEADER a header of a floor
// it must not see, it must fail to compile; with one it may see, it must build.
#include FLOOR_HEADER

int floorCheck()
{
    return 0;
}
