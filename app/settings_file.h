#pragma once
// quellmark.ini (placeholder until the settings layer lands)
