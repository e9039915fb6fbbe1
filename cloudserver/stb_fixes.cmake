# The packaged stb_image.h with the fixes it lacks for hostile images, written
# into the build tree at configure time; stb_impl.cpp compiles that copy.
# Each fix names the exact text it replaces, so a different header version
# stops the configure step instead of building unfixed.
#   cloudserver_fixed_stb_image(<folder>): writes <folder>/stb_image.h
function(cloudserver_fixed_stb_image folder)
  find_file(CLOUDSERVER_STB_IMAGE_H stb_image.h PATHS ${STB_INCLUDE_DIRS} NO_DEFAULT_PATH REQUIRED)
  file(READ ${CLOUDSERVER_STB_IMAGE_H} text)
  set_property(DIRECTORY PROPERTY CMAKE_CONFIGURE_DEPENDS ${CLOUDSERVER_STB_IMAGE_H} ${CMAKE_CURRENT_FUNCTION_LIST_FILE})

  macro(stb_fix what old new)
    string(FIND "${text}" "${old}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "stb_image.h: the text fixed for \"${what}\" is not in ${CLOUDSERVER_STB_IMAGE_H}")
    endif()
    string(REPLACE "${old}" "${new}" text "${text}")
  endmacro()

  # A JPEG table declaring more than 256 codes wrote past the code-size list
  # and, when its values were read, past the value list.
  stb_fix("huffman code count"
    [==[   for (i=0; i < 16; ++i)
      for (j=0; j < count[i]; ++j)
         h->size[k++] = (stbi_uc) (i+1);]==]
    [==[   for (i=0; i < 16; ++i)
      for (j=0; j < count[i]; ++j) {
         if (k >= 256) return stbi__err("bad size list","Corrupt JPEG");
         h->size[k++] = (stbi_uc) (i+1);
      }]==])
  stb_fix("huffman value count"
    [==[               n += sizes[i];
            }
            L -= 17;]==]
    [==[               n += sizes[i];
            }
            if (n > 256) return stbi__err("bad DHT header","Corrupt JPEG");
            L -= 17;]==])

  # JPEG entropy data that ends early: bits were taken that were never read,
  # the bit count went negative and the next shift was by 33 or more.
  stb_fix("fast AC code longer than the bits read"
    [==[         s = r & 15; // combined length
         j->code_buffer <<= s;]==]
    [==[         s = r & 15; // combined length
         if (s > j->code_bits) return stbi__err("bad huffman code","Corrupt JPEG");
         j->code_buffer <<= s;]==])
  stb_fix("progressive fast AC code longer than the bits read"
    [==[            s = r & 15; // combined length
            j->code_buffer <<= s;]==]
    [==[            s = r & 15; // combined length
            if (s > j->code_bits) return stbi__err("bad huffman code","Corrupt JPEG");
            j->code_buffer <<= s;]==])
  stb_fix("bits asked past the end of the data"
    [==[   if (j->code_bits < n) stbi__grow_buffer_unsafe(j);
]==]
    [==[   if (j->code_bits < n) stbi__grow_buffer_unsafe(j);
   if (j->code_bits < n) return 0;
]==])
  stb_fix("a bit asked past the end of the data"
    [==[   if (j->code_bits < 1) stbi__grow_buffer_unsafe(j);
]==]
    [==[   if (j->code_bits < 1) stbi__grow_buffer_unsafe(j);
   if (j->code_bits < 1) return 0;
]==])

  # The decoder's state was left as malloc gave it: a scan naming a Huffman
  # table its file never defined decoded with whatever the memory held.
  stb_fix("uninitialised decoder (load)"
    [==[   stbi__jpeg* j = (stbi__jpeg*) stbi__malloc(sizeof(stbi__jpeg));
   if (!j) return stbi__errpuc("outofmem", "Out of memory");
]==]
    [==[   stbi__jpeg* j = (stbi__jpeg*) stbi__malloc(sizeof(stbi__jpeg));
   if (!j) return stbi__errpuc("outofmem", "Out of memory");
   memset(j, 0, sizeof(stbi__jpeg));
]==])
  stb_fix("uninitialised decoder (test)"
    [==[   stbi__jpeg* j = (stbi__jpeg*)stbi__malloc(sizeof(stbi__jpeg));
   if (!j) return stbi__err("outofmem", "Out of memory");
]==]
    [==[   stbi__jpeg* j = (stbi__jpeg*)stbi__malloc(sizeof(stbi__jpeg));
   if (!j) return stbi__err("outofmem", "Out of memory");
   memset(j, 0, sizeof(stbi__jpeg));
]==])
  stb_fix("uninitialised decoder (info)"
    [==[   stbi__jpeg* j = (stbi__jpeg*) (stbi__malloc(sizeof(stbi__jpeg)));
   if (!j) return stbi__err("outofmem", "Out of memory");
]==]
    [==[   stbi__jpeg* j = (stbi__jpeg*) (stbi__malloc(sizeof(stbi__jpeg)));
   if (!j) return stbi__err("outofmem", "Out of memory");
   memset(j, 0, sizeof(stbi__jpeg));
]==])

  # A code outside the table's ranges gave a symbol index far past its 256
  # values.
  stb_fix("huffman symbol index"
    [==[   c = ((j->code_buffer >> (32 - k)) & stbi__bmask[k]) + h->delta[k];
]==]
    [==[   c = ((j->code_buffer >> (32 - k)) & stbi__bmask[k]) + h->delta[k];
   if (c < 0 || c >= 256) return -1;
]==])

  # A zero-length PNG data chunk copied nothing into no buffer yet:
  # memcpy(NULL, p, 0), undefined all the same.
  stb_fix("zero-length read"
    [==[   if (s->img_buffer+n <= s->img_buffer_end) {
      memcpy(buffer, s->img_buffer, n);]==]
    [==[   if (s->img_buffer+n <= s->img_buffer_end) {
      if (n > 0) memcpy(buffer, s->img_buffer, n);]==])

  file(WRITE ${folder}/stb_image.h.new "${text}")
  configure_file(${folder}/stb_image.h.new ${folder}/stb_image.h COPYONLY)
endfunction()
