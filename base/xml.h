// The XML library: the node tree and its parser, the writer and the document files.
#pragma once

#include "base/xml_file.h"
#include "base/xml_node.h"
#include "base/xml_write.h"
