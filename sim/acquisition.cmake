# The acquisition engine of the simulated reader: scene, camera model, decoder,
# grading, learn and calibration.
target_sources(velmarrow_sim PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/readcycle.h
  ${CMAKE_CURRENT_LIST_DIR}/readcycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/imagingparameters.h
  ${CMAKE_CURRENT_LIST_DIR}/imagingparameters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scene.h
  ${CMAKE_CURRENT_LIST_DIR}/scene.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tuningscenes.h ${CMAKE_CURRENT_LIST_DIR}/tuningscenes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/printdefects.h ${CMAKE_CURRENT_LIST_DIR}/printdefects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/imaging.h
  ${CMAKE_CURRENT_LIST_DIR}/imaging.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decoder.h
  ${CMAKE_CURRENT_LIST_DIR}/decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/matching.h
  ${CMAKE_CURRENT_LIST_DIR}/matching.cpp
  ${CMAKE_CURRENT_LIST_DIR}/grader.h
  ${CMAKE_CURRENT_LIST_DIR}/grader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/learn.h
  ${CMAKE_CURRENT_LIST_DIR}/learn.cpp
  ${CMAKE_CURRENT_LIST_DIR}/calibration.h
  ${CMAKE_CURRENT_LIST_DIR}/calibration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/externallight.h
  ${CMAKE_CURRENT_LIST_DIR}/externallight.cpp
)
