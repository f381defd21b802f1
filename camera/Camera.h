#pragma once

// The camera layer in one include.
#include "camera/Backend.h"
#include "camera/Device.h"
#include "camera/Frame.h"
#include "camera/Processing.h"
#include "camera/RealSense.h"
#include "camera/Simulated.h"
#include "camera/Types.h"
