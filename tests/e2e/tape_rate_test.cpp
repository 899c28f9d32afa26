#include "sim_audio.h"
