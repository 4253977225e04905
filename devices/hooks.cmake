# Quillhook is bound by name and Pellhook by ordinal, both at load time.
target_link_libraries(devices PUBLIC Quillhook Pellhook)
