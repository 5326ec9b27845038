# lu_add_trusted_keys_resource(<target> <keys_file>)
#
# Compiles <keys_file> into the executable <target> as the Qt resource
# ":/config/trusted-keys.json", which SignatureVerifier reads when it is constructed.
#
# The resource is compiled as a source of <target> itself rather than through a static library:
# a linker drops an object file of a static library that nothing refers to, and the resource's
# registration is referred to by nothing but its own static initialiser. Compiled into the
# executable, it registers before main() runs and unregisters at exit. Call it once per
# executable; a relative <keys_file> is taken from the top of the source tree.
function(lu_add_trusted_keys_resource target keys_file)
    get_filename_component(keys_path "${keys_file}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    if(NOT EXISTS "${keys_path}" OR IS_DIRECTORY "${keys_path}")
        message(FATAL_ERROR "Trusted key document for ${target} not found: ${keys_path}")
    endif()

    # The .qrc only aliases the document to its resource path; rcc reads the file itself, so an
    # edit of the document rebuilds the resource.
    string(MAKE_C_IDENTIFIER "${target}_trusted_keys" resource_name)
    set(qrc "${CMAKE_CURRENT_BINARY_DIR}/${resource_name}.qrc")
    set(xml_path "${keys_path}")
    string(REPLACE "&" "&amp;" xml_path "${xml_path}")
    string(REPLACE "<" "&lt;" xml_path "${xml_path}")
    string(REPLACE ">" "&gt;" xml_path "${xml_path}")
    file(CONFIGURE OUTPUT "${qrc}" @ONLY CONTENT [[
<!DOCTYPE RCC>
<RCC version="1.0">
<qresource prefix="/">
<file alias="config/trusted-keys.json">@xml_path@</file>
</qresource>
</RCC>
]])
    qt_add_resources(resource_sources "${qrc}")
    target_sources(${target} PRIVATE ${resource_sources})
endfunction()
