# Names the desktop knows the GUI programs by. The desktop id names the
# .desktop file and the AppStream component, and Wayland matches a window to
# its entry by it; both programs show the one program icon.
set(ORVEL_ID_PREFIX "org.orvel")
set(ORVEL_ICON_NAME "orvel")

# orvel_program_title(<program> <out-var>): orvelin -> Orvelin
function(orvel_program_title program out)
  string(SUBSTRING ${program} 0 1 first)
  string(SUBSTRING ${program} 1 -1 rest)
  string(TOUPPER ${first} first)
  set(${out} "${first}${rest}" PARENT_SCOPE)
endfunction()

# orvel_desktop_id(<program> <out-var>): orvel -> org.orvel.Orvel
function(orvel_desktop_id program out)
  orvel_program_title(${program} title)
  set(${out} "${ORVEL_ID_PREFIX}.${title}" PARENT_SCOPE)
endfunction()
