# The Qt-free sources of the tooltip's text engine, shared by the library and the fuzz target.
set(ORVANE_TOOLTIP_CORE
  ${CMAKE_CURRENT_LIST_DIR}/CHtmlDrawer.cpp ${CMAKE_CURRENT_LIST_DIR}/HtmlImages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HtmlLayout.cpp ${CMAKE_CURRENT_LIST_DIR}/HtmlScanner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HtmlStyleSheet.cpp ${CMAKE_CURRENT_LIST_DIR}/HtmlTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HtmlTypes.cpp ${CMAKE_CURRENT_LIST_DIR}/HtmlVocabulary.cpp)
