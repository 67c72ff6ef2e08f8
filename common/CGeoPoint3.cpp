#include "common/CGeoPoint3.h"

CGeoPoint3::~CGeoPoint3() = default;
