// A folder the layers do not know yet: refused until it is given a place.
#pragma once
