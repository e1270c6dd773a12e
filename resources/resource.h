#pragma once
#define IDI_ICON 101
