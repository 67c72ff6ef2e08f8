#include "platform/vtcore/CTransformError.h"

CTransformError::~CTransformError() = default;
