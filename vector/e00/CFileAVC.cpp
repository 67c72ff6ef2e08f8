#include "vector/e00/CFileAVC.h"

CFileAVC::~CFileAVC() = default;
