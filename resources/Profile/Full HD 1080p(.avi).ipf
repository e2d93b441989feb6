<Profile>
<ResWidth>1920</ResWidth>
<ResHeight>1080</ResHeight>
<AspectRatio>0</AspectRatio>
<VideoBR>6240</VideoBR>
<AudioBR>5</AudioBR>
<FrameRate>0</FrameRate>
<CodecName>Xvid MPEG-4 Codec</CodecName>
<CodecSettings/>
</Profile>
