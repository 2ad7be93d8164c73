// Built against the tag floor alone by tests/floors/check.cmake: with FLOOR_HEADER a header of the
// floor above, it must fail to compile; with one of the tag floor's own, it must build.
#include FLOOR_HEADER

int floorCheck()
{
    return 0;
}
